// The texts of g729a --help and g729a COMMAND --help.
#pragma once

namespace g729::tool {

extern const char* const kGeneralHelp;
extern const char* const kEncodeHelp;
extern const char* const kDecodeHelp;
extern const char* const kRoundtripHelp;
extern const char* const kInfoHelp;
extern const char* const kDumpHelp;
extern const char* const kPlotHelp;
extern const char* const kReportHelp;
extern const char* const kConvertHelp;

} // namespace g729::tool

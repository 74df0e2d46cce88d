// The report page: one self-contained HTML file that shows, explains and
// plays a call. Everything it needs is inside it (styles, script, the audio
// as data: URIs) and its Content-Security-Policy allows nothing else, so it
// opens from disk with no network and no server. The figures, timelines,
// ladders and packet tables travel as one JSON object that the page's own
// script lays out with text nodes only: a string from a capture is never
// parsed as markup.
#pragma once

#include <string>

namespace g729::tool {

// s with &, <, >, " and ' as character references: text for an element or
// an attribute value.
std::string html_escape(const std::string& s);

// JSON made safe to stand inside <script>: <, >, & and the line and
// paragraph separators U+2028 and U+2029 as \u escapes (valid JSON, since
// they can occur only inside strings), so that no "</script>" or "<!--" in
// a captured string can end or change the script element.
std::string script_json(const std::string& json);

// The whole page for `title` (shown escaped) and its data (a JSON object,
// see report_command.cpp for its members).
std::string report_html(const std::string& title, const std::string& data_json);

} // namespace g729::tool

# The g729a tool's sources but main(): one list, read by the tool's build
# (tools/CMakeLists.txt) and by the fuzz targets that drive its readers
# (fuzz/CMakeLists.txt). The rooms, each including only rooms below it:
#   cli/      the command table and dispatch, the one table of options, the
#             commands on coded and audio files, the runners
#   plot/     layout and drawing; tracks from a coded file or from a call;
#             the report page
#   capture/  the capture reader, packets, SDP and SIP, the RTP stream, the call
#             model and its analysis, playback, one file per capture command
#   formats/  format names, the audio source and sink, .g729 and .bit, the
#             texts of coded frames
#   common/   the floor: failures, text, input and output files, signals,
#             progress, loaded libraries, JSON, codec handles, options
set(G729A_TOOL_SOURCES
  common/input_file.cpp
  common/output_file.cpp
  common/output_folder.cpp
  common/progress.cpp
  common/shared_library.cpp
  common/signals.cpp
  common/text.cpp
  formats/audio_sink.cpp
  formats/audio_source.cpp
  formats/coded_input.cpp
  formats/coded_stream.cpp
  formats/format_names.cpp
  formats/page_audio.cpp
  formats/frame_text.cpp
  formats/resampler.cpp
  formats/sndfile_library.cpp
  formats/standard_input.cpp
  capture/call.cpp
  capture/call_text.cpp
  capture/capture_input.cpp
  capture/capture_reader.cpp
  capture/convert_command.cpp
  capture/decode_command.cpp
  capture/dump_command.cpp
  capture/emodel.cpp
  capture/info_command.cpp
  capture/jitter_buffer.cpp
  capture/network_report.cpp
  capture/packet_table.cpp
  capture/packets.cpp
  capture/playback.cpp
  capture/rtcp.cpp
  capture/rtp_stream.cpp
  capture/sdp.cpp
  capture/sip_reader.cpp
  capture/stream_analysis.cpp
  capture/tcp_stream.cpp
  capture/telephone_events.cpp
  plot/plot.cpp
  plot/plot_command.cpp
  plot/report_command.cpp
  plot/report_page.cpp
  plot/tracks.cpp
  cli/file_commands.cpp
  cli/help.cpp
  cli/options.cpp
  cli/runner.cpp)
list(TRANSFORM G729A_TOOL_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)

# The fuzz targets and the libraries each one tests; the fuzz build and the replay
# test both read this list. Each entry: name, then its libraries separated by "+".
set(SKARVEL_FUZZ_TARGETS
  bmp:skarvel_pictures
  jpeg:skarvel_pictures
  png:skarvel_pictures
  gif:skarvel_pictures
  html_analysis:skarvel_service
  http_request:skarvel_service
  harvest_parser:skarvel_rules
  text_rules:skarvel_rules
  content_disposition:skarvel_net
  url_encoding:skarvel_net
  settings:skarvel_common)
# http_request feeds the server through a Unix socket pair, which Windows lacks.
if(WIN32)
  list(REMOVE_ITEM SKARVEL_FUZZ_TARGETS http_request:skarvel_service)
endif()
# The modern picture types, each with its backend.
if(SKARVEL_WEBP)
  list(APPEND SKARVEL_FUZZ_TARGETS
    webp:skarvel_pictures)
endif()
if(SKARVEL_AVIF)
  list(APPEND SKARVEL_FUZZ_TARGETS
    avif:skarvel_pictures)
endif()
if(SKARVEL_SVG)
  list(APPEND SKARVEL_FUZZ_TARGETS
    svg:skarvel_pictures)
endif()

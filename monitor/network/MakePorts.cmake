# Writes ports.txt ("<port>/<protocol> <service>" lines) from a services(5) list.
# cmake -DSERVICES=/etc/services -DOUTPUT=.../ports.txt -P MakePorts.cmake
set(_text "# Service names by port, made from ${SERVICES} at build time.\n")
string(APPEND _text "# Each line: <port>/tcp or <port>/udp, a blank, the service name.\n")
if(EXISTS "${SERVICES}")
  file(STRINGS "${SERVICES}" _lines)
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "^([^ \t#]+)[ \t]+([0-9]+)/(tcp|udp)([ \t]|#|$)")
      string(APPEND _text "${CMAKE_MATCH_2}/${CMAKE_MATCH_3} ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
else()
  # No service list on this machine: sockets then show bare port numbers.
  string(APPEND _text "# ${SERVICES} was not found; no service names.\n")
endif()
file(WRITE "${OUTPUT}.tmp" "${_text}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")

# zr_embed_files(OUTPUT NAMESPACE NAME FILE [NAME FILE ...]) writes OUTPUT,
# a C++ source that holds the bytes of each FILE as a std::string_view
# constant NAME in NAMESPACE, so a program carries those files in itself.
# The build is configured again when one of them changes.
function(zr_embed_files output namespace)
  set(text "// Made by the build from the files it names; edit those instead.\n#include <string_view>\n\nnamespace ${namespace} {\n")
  set(pairs ${ARGN})
  list(LENGTH pairs count)
  math(EXPR last "${count} - 1")
  foreach(index RANGE 0 ${last} 2)
    math(EXPR next "${index} + 1")
    list(GET pairs ${index} name)
    list(GET pairs ${next} file)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    file(READ ${file} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    string(APPEND text "extern const std::string_view ${name};\nconst std::string_view ${name}(\"${escaped}\", ${size});\n")
  endforeach()
  string(APPEND text "\n}  // namespace ${namespace}\n")
  file(WRITE ${output}.new "${text}")
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
endfunction()

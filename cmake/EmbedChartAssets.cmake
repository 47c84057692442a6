# Writes NAME.h/.cpp (default chart_assets) holding a page template and the
# library it inlines as C strings, so that vlmstruct writes pages that work
# offline. Inputs: TEMPLATE, LIBRARY, PACKAGE_JSON, OUTPUT_DIR; optional NAME,
# PREFIX (the constants are k<PREFIX>Template, k<PREFIX>Library, ...; default
# Chart) and LICENSE (how the notice names the library's licence).
if(NOT NAME)
  set(NAME chart_assets)
endif()
if(NOT PREFIX)
  set(PREFIX Chart)
endif()
if(NOT LICENSE)
  set(LICENSE "Apache License 2.0")
endif()
file(READ "${PACKAGE_JSON}" package)
string(JSON version GET "${package}" version)
string(JSON name GET "${package}" name)

function(as_c_array var file)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," body "${hex}")
  set(${var} "${body}" PARENT_SCOPE)
endfunction()

as_c_array(template_bytes "${TEMPLATE}")
as_c_array(library_bytes "${LIBRARY}")
set(notice "Charting library: ${name} ${version}, ${LICENSE}; inlined unchanged below with its licence header.")

file(WRITE "${OUTPUT_DIR}/${NAME}.h.tmp"
"#pragma once\n#include <string_view>\nnamespace vlmstruct {\nextern const std::string_view k${PREFIX}Template;\nextern const std::string_view k${PREFIX}Library;\nextern const std::string_view k${PREFIX}LibraryNotice;\nextern const std::string_view k${PREFIX}LibraryVersion;\n}\n")
file(WRITE "${OUTPUT_DIR}/${NAME}.cpp.tmp"
"#include \"${NAME}.h\"\nnamespace vlmstruct {\nnamespace {\nconst char templateBytes[] = {${template_bytes} 0};\nconst char libraryBytes[] = {${library_bytes} 0};\n}\nconst std::string_view k${PREFIX}Template(templateBytes, sizeof templateBytes - 1);\nconst std::string_view k${PREFIX}Library(libraryBytes, sizeof libraryBytes - 1);\nconst std::string_view k${PREFIX}LibraryNotice(\"${notice}\");\nconst std::string_view k${PREFIX}LibraryVersion(\"${name} ${version}\");\n}\n")
foreach(f ${NAME}.h ${NAME}.cpp)
  file(COPY_FILE "${OUTPUT_DIR}/${f}.tmp" "${OUTPUT_DIR}/${f}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUTPUT_DIR}/${f}.tmp")
endforeach()

# Writes chart_assets.h/.cpp holding the chart template and the charting
# library as C strings, so that vlmstruct writes charts that work offline.
# Inputs: TEMPLATE, LIBRARY, PACKAGE_JSON, OUTPUT_DIR.
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
set(notice "Charting library: ${name} ${version}, Apache License 2.0; inlined unchanged below with its licence header.")

file(WRITE "${OUTPUT_DIR}/chart_assets.h.tmp"
"#pragma once\n#include <string_view>\nnamespace vlmstruct {\nextern const std::string_view kChartTemplate;\nextern const std::string_view kChartLibrary;\nextern const std::string_view kChartLibraryNotice;\nextern const std::string_view kChartLibraryVersion;\n}\n")
file(WRITE "${OUTPUT_DIR}/chart_assets.cpp.tmp"
"#include \"chart_assets.h\"\nnamespace vlmstruct {\nnamespace {\nconst char templateBytes[] = {${template_bytes} 0};\nconst char libraryBytes[] = {${library_bytes} 0};\n}\nconst std::string_view kChartTemplate(templateBytes, sizeof templateBytes - 1);\nconst std::string_view kChartLibrary(libraryBytes, sizeof libraryBytes - 1);\nconst std::string_view kChartLibraryNotice(\"${notice}\");\nconst std::string_view kChartLibraryVersion(\"${name} ${version}\");\n}\n")
foreach(f chart_assets.h chart_assets.cpp)
  file(COPY_FILE "${OUTPUT_DIR}/${f}.tmp" "${OUTPUT_DIR}/${f}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUTPUT_DIR}/${f}.tmp")
endforeach()

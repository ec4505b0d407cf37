# Writes OUT, a C++ source holding the message catalogues of po/ as string
# constants, for the Printer Application (cmake -P, run at build time):
#   cmake -DOUT=catalogues.cpp -DPO_DIR=po -DLANGUAGES="de;es;fr" -P embed_catalogues.cmake
set(text "// Generated from po/*.po by cmake/embed_catalogues.cmake; do not edit.\n")
string(APPEND text "#include <utility>\n\nextern const std::pair<const char*, const char*> kCatalogues[];\n")
string(APPEND text "extern const int kCatalogueCount;\n\nconst std::pair<const char*, const char*> kCatalogues[] = {\n")
set(count 0)
foreach(language IN LISTS LANGUAGES)
  file(READ ${PO_DIR}/${language}.po content)
  string(APPEND text "    {\"${language}\", R\"talvero_po(${content})talvero_po\"},\n")
  math(EXPR count "${count} + 1")
endforeach()
string(APPEND text "};\nconst int kCatalogueCount = ${count};\n")
file(WRITE ${OUT}.new "${text}")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)

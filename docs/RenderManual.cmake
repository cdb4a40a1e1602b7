# Renders the README to a page of its own: cmark turns the Markdown into HTML,
# and this wraps it with a title, the character set and a readable measure.
# Usage: cmake -DCMARK=cmark -DREADME=README.md -DOUTPUT=manual.html -P RenderManual.cmake
execute_process(COMMAND ${CMARK} --validate-utf8 ${README}
  OUTPUT_VARIABLE body
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmark could not render ${README}")
endif()
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
file(WRITE ${OUTPUT} "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">
<title>Mendrake manual</title>
<style>
body { max-width: 48em; margin: 2em auto; padding: 0 1em; font-family: sans-serif; line-height: 1.5; }
img { max-width: 100%; height: auto; }
pre, code { background: #f3f3f3; }
pre { padding: 0.5em; overflow-x: auto; }
</style>
</head>
<body>
${body}</body>
</html>
")

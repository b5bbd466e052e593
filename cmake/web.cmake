# The web page (web/): copied with the JavaScript package beside it into
# build/web, a static folder any web server serves. Its test drives the page
# in the system's Chromium with puppeteer-core (tests/web, installed there by
# npm ci from its lock file).
if(NOT TARGET wsq_js)
  message(STATUS "Web page is off: the JavaScript package is not built")
  return()
endif()
set(WSQ_WEB_DIR ${CMAKE_BINARY_DIR}/web)
add_custom_target(wsq_web ALL
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/web ${WSQ_WEB_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_BINARY_DIR}/js ${WSQ_WEB_DIR}/wsq
  COMMENT "Web page in ${WSQ_WEB_DIR}")
add_dependencies(wsq_web wsq_js)

if(NOT WSQ_BUILD_TESTS)
  return()
endif()
find_program(WSQ_NODE node)
find_program(WSQ_CHROMIUM NAMES chromium chromium-browser)
set(puppeteer ${PROJECT_SOURCE_DIR}/tests/web/node_modules/puppeteer-core/package.json)
if(NOT WSQ_NODE OR NOT WSQ_CHROMIUM)
  message(STATUS "Browser test of the web page is off: it needs node and chromium")
elseif(NOT EXISTS ${puppeteer})
  message(STATUS "Browser test of the web page is off: puppeteer-core is not installed "
          "(PUPPETEER_SKIP_DOWNLOAD=1 npm ci --prefix tests/web)")
else()
  add_test(NAME web.page COMMAND ${WSQ_NODE} --test page.test.mjs
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/web)
  set_tests_properties(web.page PROPERTIES TIMEOUT 300 ENVIRONMENT
    "WSQ_WEB=${WSQ_WEB_DIR};WSQ1=$<TARGET_FILE:wsq1>;UNWSQ=$<TARGET_FILE:unwsq>;WSQ_DATA=${PROJECT_SOURCE_DIR}/tests/data;WSQ_ARTIFACTS=${CMAKE_BINARY_DIR}/web-test;CHROMIUM=${WSQ_CHROMIUM}")
endif()

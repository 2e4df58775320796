# Windows build: Tonefork.exe, the Windows test executable and the small
# control tool that the end-to-end tests use to talk to the running program.
enable_language(RC)
tonefork_add_imgui()
tonefork_add_gtest()

set(TONEFORK_WIN_LIBS tonefork_imgui_headers ole32 oleaut32 uuid winmm avrt shell32 user32
    gdi32 advapi32 windowscodecs propsys comctl32)

add_library(tonefork_win STATIC ${TONEFORK_WIN_SOURCES})
target_include_directories(tonefork_win PUBLIC src)
target_compile_definitions(tonefork_win PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_libraries(tonefork_win PUBLIC tonefork_rules ${TONEFORK_WIN_LIBS})
tonefork_warnings(tonefork_win)

# What the About tab's "Website" and "Support" buttons open. Empty: the
# support section of the manual shipped beside the program.
set(TONEFORK_WEBSITE_LINK "" CACHE STRING "Address opened by the About tab's Website and Support buttons")
set_property(SOURCE src/ui/about_tab.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "TONEFORK_WEBSITE_LINK=\"${TONEFORK_WEBSITE_LINK}\"")

if(MINGW)
  # Only system DLLs at run time: the GCC runtime and winpthread go inside.
  set(TONEFORK_STATIC_RUNTIME -static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)
endif()

add_executable(Tonefork WIN32 ${TONEFORK_APP_MAIN} src/app/resources/tonefork.rc)
target_link_libraries(Tonefork PRIVATE tonefork_win tonefork_imgui)
target_link_options(Tonefork PRIVATE ${TONEFORK_STATIC_RUNTIME} $<$<BOOL:${MINGW}>:-municode>)
tonefork_warnings(Tonefork)

file(GLOB TONEFORK_WIN_TESTS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win/*.cpp)
add_executable(tonefork_win_tests ${TONEFORK_WIN_TESTS} tests/win/test_resources.rc)
target_include_directories(tonefork_win_tests PRIVATE tests/win src/app/resources)
target_link_libraries(tonefork_win_tests PRIVATE tonefork_win tonefork_imgui_probe gtest_main gmock)
target_link_options(tonefork_win_tests PRIVATE ${TONEFORK_STATIC_RUNTIME})
tonefork_warnings(tonefork_win_tests)

add_executable(tfctl tests/tools/tfctl.cpp)
target_compile_definitions(tfctl PRIVATE UNICODE _UNICODE)
target_link_options(tfctl PRIVATE ${TONEFORK_STATIC_RUNTIME} $<$<BOOL:${MINGW}>:-municode>)
target_link_libraries(tfctl PRIVATE user32)
tonefork_warnings(tfctl)

# The runnable program: dist/Tonefork/Tonefork.exe with assets/*.png beside it.
set(TONEFORK_DIST_DIR ${PROJECT_SOURCE_DIR}/dist/Tonefork CACHE PATH "Where the runnable program is laid out")
file(GLOB TONEFORK_ASSETS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/assets/*.png)
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TONEFORK_DIST_DIR}/assets
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Tonefork> ${TONEFORK_DIST_DIR}/Tonefork.exe
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TONEFORK_ASSETS} ${TONEFORK_DIST_DIR}/assets/
  DEPENDS Tonefork ${TONEFORK_ASSETS}
  VERBATIM)

# The user manual beside the program, made from the user part of README.md.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_custom_command(OUTPUT ${TONEFORK_DIST_DIR}/manual.html
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TONEFORK_DIST_DIR}
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/make-manual.py
      ${PROJECT_SOURCE_DIR}/README.md ${TONEFORK_DIST_DIR}/manual.html
    DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/scripts/make-manual.py
    VERBATIM)
  add_custom_target(manual ALL DEPENDS ${TONEFORK_DIST_DIR}/manual.html)
else()
  message(WARNING "No Python 3: the manual (manual.html) is not made, and the About tab's links lead nowhere")
endif()

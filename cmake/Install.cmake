# cmake --install (make install): the programs in <prefix>/bin, the files they
# read in <prefix>/share/marovane (the program looks there when they are not
# beside it), and a desktop entry with its icons so that the synthesizer
# appears in the desktop's menu. Tests and the benchmark are not installed.
set(MAROVANE_SHARE share/marovane)

install(TARGETS marovane marovane-render RUNTIME DESTINATION bin)
install(FILES
    ${CMAKE_SOURCE_DIR}/resources/spin.bmp
    ${CMAKE_SOURCE_DIR}/resources/sliderbk.bmp
    ${CMAKE_SOURCE_DIR}/resources/sliderind.bmp
    ${CMAKE_SOURCE_DIR}/resources/hsliderbk.bmp
    ${CMAKE_SOURCE_DIR}/resources/hsliderind.bmp
    ${CMAKE_SOURCE_DIR}/resources/octave.bmp
    ${CMAKE_SOURCE_DIR}/resources/marovane.ico
    ${MAROVANE_HELP_BOOK}
  DESTINATION ${MAROVANE_SHARE})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/patches DESTINATION ${MAROVANE_SHARE})

install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/marovane.desktop DESTINATION share/applications)
foreach(size 32x32 64x64 128x128 256x256)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/icons/${size}/marovane.png
    DESTINATION share/icons/hicolor/${size}/apps)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/marovane)

# The plugin's three bundles where hosts look for them: <prefix>/lib/lv2,
# <prefix>/lib/vst3 and <prefix>/lib/clap (the LV2 bundle as it is in the
# build folder, with its Turtle). Component "plugins": `cmake --install
# <build> --component plugins` installs them alone.
if(TARGET marovane_plugins)
  install(DIRECTORY ${MAROVANE_PLUGIN_LV2_BUNDLE} DESTINATION lib/lv2 COMPONENT plugins)
  install(DIRECTORY ${MAROVANE_VST3_BUNDLE} DESTINATION lib/vst3 COMPONENT plugins)
  install(TARGETS marovane_plugin-clap LIBRARY DESTINATION lib/clap COMPONENT plugins)
endif()

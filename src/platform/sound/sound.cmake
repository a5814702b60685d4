# Sound in and out (PipeWire, or ALSA where no sound server runs) and the virtual sound
# devices, part of reelbox_platform.
pkg_check_modules(PIPEWIRE REQUIRED IMPORTED_TARGET libpipewire-0.3)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
target_sources(reelbox_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/Alsa.cpp
    ${CMAKE_CURRENT_LIST_DIR}/internal/Alsa.h
    ${CMAKE_CURRENT_LIST_DIR}/AudioStreams.h
    ${CMAKE_CURRENT_LIST_DIR}/LevelMeter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LevelMeter.h
    ${CMAKE_CURRENT_LIST_DIR}/PipeWire.cpp
    ${CMAKE_CURRENT_LIST_DIR}/internal/PipeWire.h
    ${CMAKE_CURRENT_LIST_DIR}/SoundDevice.h
    ${CMAKE_CURRENT_LIST_DIR}/SoundSystem.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SoundSystem.h
    ${CMAKE_CURRENT_LIST_DIR}/StampFilter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/internal/StampFilter.h
    ${CMAKE_CURRENT_LIST_DIR}/../virtual/SoundLoopback.h
    ${CMAKE_CURRENT_LIST_DIR}/../virtual/TestMicrophone.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../virtual/TestMicrophone.h
    ${CMAKE_CURRENT_LIST_DIR}/../virtual/TestOutput.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../virtual/TestOutput.h
)
target_link_libraries(reelbox_platform PRIVATE PkgConfig::PIPEWIRE PkgConfig::ALSA)

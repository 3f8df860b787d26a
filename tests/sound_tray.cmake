# The sound player and the tray icon on the real platform.

# The program's resources (icons) for test programs that load the looks.
set(HV_RC ${PROJECT_SOURCE_DIR}/res/halvory.rc)
set_source_files_properties(${HV_RC} PROPERTIES OBJECT_DEPENDS "${ART_FILES};${PROJECT_SOURCE_DIR}/res/resource.h")

function(halvory_with_resources target)
  target_include_directories(${target} PRIVATE ${ART_DIR} ${PROJECT_SOURCE_DIR}/res)
  add_dependencies(${target} hv_art)
endfunction()

# The stage: the real player and tray code driven line by line from a test.
add_executable(soundtray tools/soundtray.cpp ${HV_RC})
halvory_with_resources(soundtray)
target_include_directories(soundtray PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(soundtray PRIVATE WINVER=0x0600 _WIN32_WINNT=0x0600 _WIN32_IE=0x0600)
target_compile_options(soundtray PRIVATE
  $<$<COMPILE_LANGUAGE:C,CXX>:-finput-charset=UTF-8 -fexec-charset=CP932 -Wall -Wextra>)
target_link_libraries(soundtray PRIVATE hv_sound hv_tray hv_settings hv_app)

# The tray record as the shell receives it, through a link-time stand-in.
halvory_gtest(tray_record_test SOURCES unit/tray_record_test.cpp ${HV_RC} LIBS hv_tray hv_app)
halvory_with_resources(tray_record_test)
set_target_properties(tray_record_test PROPERTIES COMPILE_OPTIONS "")
target_compile_options(tray_record_test PRIVATE
  $<$<COMPILE_LANGUAGE:C,CXX>:-finput-charset=UTF-8 -fexec-charset=CP932 -Wall -Wextra>)

# Sounds heard, commands traced, tray looks seen.
halvory_e2e(sound_e2e sound_e2e.py)
halvory_e2e(tray_e2e tray_e2e.py)

# Leak checks: qvdecode on the bundled samples under valgrind memcheck, one run per
# subcommand path (file mode, stream mode with repacking and demultiplexing, raw extraction,
# the G.722 and libavcodec audio paths). Labelled nosanitize because valgrind cannot run the
# sanitizer builds; skipped (exit code 77) when valgrind is not installed.
if(TARGET qvdecode)
  set(qv_samples ${CMAKE_SOURCE_DIR}/samples)
  set(qv_valgrind_out ${CMAKE_BINARY_DIR}/valgrind-out)

  function(qv_valgrind_test name)
    add_test(NAME valgrind_${name}
      COMMAND bash ${CMAKE_SOURCE_DIR}/tests/valgrind_run.sh ${qv_valgrind_out}/${name}
              $<TARGET_FILE:qvdecode> ${ARGN})
    # COST: a run under valgrind is among the longest of the suite; started first, it does
    # not leave a tail of them after the short tests (ctest knows no times on a fresh build).
    set_tests_properties(valgrind_${name} PROPERTIES
      LABELS "valgrind;nosanitize" SKIP_RETURN_CODE 77 TIMEOUT 300 COST 20)
  endfunction()

  qv_valgrind_test(info info --json ${qv_samples}/clip.mp4)
  qv_valgrind_test(decode decode ${qv_samples}/clip.mp4 --format bgr24 --size 160x120
                   --snapshots snapshots --every 25 --raw pictures.bgr)
  qv_valgrind_test(extract extract ${qv_samples}/clip.mp4 -o ${qv_valgrind_out}/clip.h264
                   --index frames.csv)
  qv_valgrind_test(push_h264 push ${qv_valgrind_out}/clip.h264 --codec h264 --size 320x240
                   --repack --key-first --format rgb24 --snapshots snapshots --every 40)
  qv_valgrind_test(push_chunks push ${qv_valgrind_out}/clip.h264 --codec h264 --size 320x240
                   --chunks --out-size 176x144)
  qv_valgrind_test(push_program_stream push ${qv_samples}/clip.mpg --codec mpeg2 --size 320x240
                   --demux --out-size 160x120 --snapshots snapshots --every 50)
  qv_valgrind_test(audio_g722 audio ${qv_samples}/speech.g722 -o speech.wav --codec g722)
  qv_valgrind_test(audio_libavcodec audio ${qv_samples}/speech.g722 -o speech.wav --codec ffg722)

  # The pushes of the H.264 stream read what the extraction wrote.
  set_tests_properties(valgrind_extract PROPERTIES FIXTURES_SETUP qv_valgrind_h264)
  set_tests_properties(valgrind_push_h264 valgrind_push_chunks PROPERTIES
    FIXTURES_REQUIRED qv_valgrind_h264)
endif()

# The fuzz targets, one line each:
#   kvarn_add_fuzzer(<name> <sources...>)
# Each target's sources define LLVMFuzzerTestOneInput (and may define
# LLVMFuzzerInitialize); its seed inputs live in corpus/<name>/.
# The including file defines kvarn_add_fuzzer: fuzz/CMakeLists.txt builds
# libFuzzer executables, tests/protocol/CMakeLists.txt builds each target
# into a plain regression test.
kvarn_add_fuzzer(fuzz_frame fuzz_frame.cpp)
kvarn_add_fuzzer(fuzz_spectrumfile fuzz_spectrumfile.cpp)
kvarn_add_fuzzer(fuzz_spectrumblock fuzz_spectrumblock.cpp)
kvarn_add_fuzzer(fuzz_archivefile fuzz_archivefile.cpp)
kvarn_add_fuzzer(fuzz_spectrumformats fuzz_spectrumformats.cpp)

# Checks beyond scripts/test.sh. Each sanitizer target configures, builds and tests its own build
# directory (build-asan, build-tsan) from the presets in CMakePresets.json.
#   make asan           core, unit and end-to-end tests under AddressSanitizer + UBSan
#   make tsan           the same under ThreadSanitizer
#   make fuzz           every fuzz target for FUZZ_SECONDS seconds each (default 60)
#   make windows        Windows x64 cross build (mingw-w64) of the core and its tests, run under
#                       Wine (scripts/windows-test.sh; build-windows, preset "windows")
#   make socketcan      the SocketCAN tests (vcan0) in the canvm virtual machine, or on this
#                       machine's vcan0 (scripts/socketcan-test.sh)
FUZZ_SECONDS ?= 60

.PHONY: asan tsan fuzz windows socketcan

asan tsan:
	cmake --preset $@
	cmake --build --preset $@
	ctest --preset $@

fuzz:
	scripts/fuzz.sh $(FUZZ_SECONDS)

windows:
	scripts/windows-test.sh

socketcan:
	scripts/socketcan-test.sh

# Checks beyond scripts/test.sh. Each sanitizer target configures, builds and tests its own build
# directory (build-asan, build-tsan) from the presets in CMakePresets.json.
#   make asan           core, unit and end-to-end tests under AddressSanitizer + UBSan
#   make tsan           the same under ThreadSanitizer
#   make fuzz           every fuzz target for FUZZ_SECONDS seconds each (default 60)
FUZZ_SECONDS ?= 60

.PHONY: asan tsan fuzz

asan tsan:
	cmake --preset $@
	cmake --build --preset $@
	ctest --preset $@

fuzz:
	scripts/fuzz.sh $(FUZZ_SECONDS)

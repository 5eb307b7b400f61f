# Quick start: `make run` (the program against a simulated VX310) and `make test`.
# Both install any missing Debian packages first (as root, or through sudo).

BUILD_DIR ?= build
JOBS ?= 2
ARGS ?=
BUILD_TYPE ?= RelWithDebInfo

DEBIAN_PACKAGES := cmake ninja-build g++ make pkg-config qt6-base-dev qt6-serialport-dev \
	libgl-dev libgtest-dev libgmock-dev libbenchmark-dev clang-format fonts-dejavu-core \
	qt6-tools-dev qt6-documentation-tools libqt6sql6-sqlite \
	clang libfuzzer-14-dev xvfb xauth x11-utils srecord \
	assistant-qt6 openbox xfwm4 sway mutter qt6-wayland xdotool xclip imagemagick dbus at-spi2-core \
	python3-pyatspi python3-gi \
	help2man lintian desktop-file-utils appstream dpkg-dev file

# Sanitized test run and fuzzing, each in a build folder of its own.
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
SECONDS ?= 60
FUZZ_TARGETS := fuzz_config_block fuzz_profile fuzz_port_names fuzz_settings fuzz_simulator \
	fuzz_config_file fuzz_reply_lines fuzz_download fuzz_plan fuzz_job
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=undefined \
	-fno-omit-frame-pointer

CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
ifeq ($(CI),true)
CMAKE_FLAGS += -DVXCONF_WERROR=ON
endif

SOURCES = $(shell find platform app cli station window device editor configfiles program sim tests bench fuzz \
	-name '*.cpp' -o -name '*.h' 2>/dev/null)

.PHONY: run test test-sanitize fuzz deps configure build check-format check-layers format bench \
	install clean \
	package package-check

run: build
	$(BUILD_DIR)/vxconf --simulate $(ARGS)

test: build check-format check-layers package-check
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The Debian package (build/vxconf_VERSION_ARCH.deb), and the checks a distribution makes.
package: build
	rm -f $(BUILD_DIR)/vxconf_*.deb
	cd $(BUILD_DIR) && cpack -G DEB

package-check: package
	sh packaging/check.sh $(BUILD_DIR)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer. Only the system's
# D-Bus library is let off its leak at exit (tests/lsan.supp).
test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVXCONF_BENCH=OFF \
		-DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)"
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && QT_QPA_PLATFORM=offscreen \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# Each fuzz target for SECONDS seconds, from its corpus in fuzz/corpus. New inputs it finds
# stay in the build folder; a finding stops the run and is kept under findings/.
fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVXCONF_FUZZ=ON \
		-DVXCONF_GUI=OFF -DVXCONF_TESTS=OFF -DVXCONF_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@mkdir -p $(FUZZ_DIR)/findings
	@for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_DIR)/corpus/$$t; \
		echo "== $$t, $(SECONDS) s"; \
		if ! $(FUZZ_DIR)/fuzz/$$t -max_total_time=$(SECONDS) -timeout=10 -rss_limit_mb=2048 \
			-print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/findings/$$t- \
			$(FUZZ_DIR)/corpus/$$t fuzz/corpus/$$t > $(FUZZ_DIR)/$$t.log 2>&1; then \
			tail -n 40 $(FUZZ_DIR)/$$t.log; echo "$$t: finding kept in $(FUZZ_DIR)/findings"; \
			exit 1; \
		fi; \
		grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' $(FUZZ_DIR)/$$t.log; \
	done

deps:
	@missing=""; \
	for p in $(DEBIAN_PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || \
			missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "Installing:$$missing"; \
		sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
		$$sudo apt-get update && \
		DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

check-format: deps
	clang-format --dry-run --Werror $(SOURCES)

# No include runs up the folders' layers (CONTRIBUTING.md).
check-layers:
	sh tools/check-layers.sh

format:
	clang-format -i $(SOURCES)

bench: build
	$(BUILD_DIR)/bench/vxconf_bench

install: build
	cmake --install $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR)

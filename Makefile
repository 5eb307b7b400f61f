# Quick start: `make run` (the program against a simulated VX310) and `make test`.
# Both install any missing Debian packages first (as root, or through sudo).

BUILD_DIR ?= build
JOBS ?= 2
ARGS ?=
BUILD_TYPE ?= RelWithDebInfo

DEBIAN_PACKAGES := cmake ninja-build g++ make pkg-config qt6-base-dev qt6-serialport-dev \
	libgl-dev libgtest-dev libgmock-dev libbenchmark-dev clang-format fonts-dejavu-core

CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
ifeq ($(CI),true)
CMAKE_FLAGS += -DVXCONF_WERROR=ON
endif

SOURCES = $(shell find platform app device editor configfiles program sim tests bench \
	-name '*.cpp' -o -name '*.h' 2>/dev/null)

.PHONY: run test deps configure build check-format format bench install clean

run: build
	$(BUILD_DIR)/vxconf --simulate $(ARGS)

test: build check-format
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

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

format:
	clang-format -i $(SOURCES)

bench: build
	$(BUILD_DIR)/bench/vxconf_bench

install: build
	cmake --install $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)

# Thin front door: every target installs what is missing, configures and builds first.
# Works on a fresh Debian 12 machine; as root it installs packages itself.

BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# Everything the build, the tests and the demo need from Debian.
PACKAGES := build-essential cmake pkg-config \
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-odbc libqt6sql6-psql \
  libgl-dev \
  firebird-dev firebird3.0-server-core firebird3.0-utils libfbclient2 \
  fonts-arphic-uming fonts-dejavu-core fontconfig \
  libbenchmark-dev sqlite3 poppler-utils

.PHONY: all deps configure build test demo fuzz bench clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    export DEBIAN_FRONTEND=noninteractive; \
	    apt-get update -q && apt-get install -y -q --no-install-recommends $$missing; \
	  else \
	    echo "Missing packages. Run:"; echo "  sudo apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

demo: build
	./demo/run-demo.sh $(BUILD)

fuzz: deps
	@$(MAKE) --no-print-directory deps PACKAGES="clang libclang-rt-14-dev"
	cmake -S . -B $(BUILD)-fuzz -DRPT_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD)-fuzz -j $(JOBS) --target fuzz_cds_reader
	mkdir -p $(BUILD)-fuzz/corpus
	$(BUILD)-fuzz/bin/fuzz_cds_reader -max_total_time=$${FUZZ_SECONDS:-300} $(BUILD)-fuzz/corpus tests/data/cds

bench: build
	./bench/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD)

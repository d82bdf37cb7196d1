# Two entry points: `make run` (the example genome) and `make test` (every test); `make check`
# runs the quick ones.
JOBS ?= 2
DEBUG_DIR := build/debug
RELEASE_DIR := build/release

.PHONY: run test check test-cluster test-sanitize test-tsan test-scalar test-overall fuzz bench docs \
  install uninstall deb clean

# What each target needs is installed when missing (as root only): the build tools for
# `make run`, the test packages for the tests, and so on.
DEPS = @bash scripts/install-deps.sh

run:
	$(DEPS) build
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DKESTRA_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS) --target kestra
	@mkdir -p out
	./$(RELEASE_DIR)/kestra examples/lambda.fa out/lambda -F
	@echo "Binary:       $(RELEASE_DIR)/kestra"
	@echo "Report:       out/lambda.seg"
	@echo "Masked FASTA: out/lambda.fas"

test:
	$(DEPS) test
	cmake -S . -B $(DEBUG_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTRA_WERROR=ON
	cmake --build $(DEBUG_DIR) -j$(JOBS)
	cd $(DEBUG_DIR) && ctest --output-on-failure -j$(JOBS)

# The unit and end-to-end tests but the slow ones (ctest labels unit, cli, slow), in the same
# Debug build: under a minute on two cores.
check:
	$(DEPS) test
	cmake -S . -B $(DEBUG_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTRA_WERROR=ON
	cmake --build $(DEBUG_DIR) -j$(JOBS)
	cd $(DEBUG_DIR) && ctest --output-on-failure -L 'unit|cli' -LE slow -j$(JOBS)

# The workflow on a single-node SLURM cluster started on this machine, by each cluster route,
# against a local run (tests/cluster/test_cluster.sh). It runs as root only, installing what
# it needs (install-deps.sh cluster); for anyone else it says it is skipped.
test-cluster:
	$(DEPS) build
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DKESTRA_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS) --target kestra
	@status=0; bash tests/cluster/test_cluster.sh $(RELEASE_DIR)/kestra || status=$$?; \
	  [ $$status -eq 77 ] || exit $$status

SANITIZE_DIR := build/sanitize
SCALAR_DIR := build/scalar
TSAN_DIR := build/tsan
FUZZ_DIR := build/fuzz
FUZZ_SECONDS ?= 20

# Every test again, with the whole project built under AddressSanitizer and
# UndefinedBehaviorSanitizer; any finding fails the test that met it.
test-sanitize:
	$(DEPS) test
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTRA_WERROR=ON -DKESTRA_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j$(JOBS)
	cd $(SANITIZE_DIR) && ctest --output-on-failure -j$(JOBS)

# The tests that run threads, with everything built under ThreadSanitizer: the pipeline with
# many jobs and pieces in flight, whole inputs on several threads with many small jobs
# waiting for each other, BGZF blocks inflated on threads of a loop, and compressed inputs
# and outputs on several threads; a data race fails the run that meets it.
test-tsan:
	$(DEPS) test
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTRA_WERROR=ON -DKESTRA_TSAN=ON
	cmake --build $(TSAN_DIR) -j$(JOBS) --target cli_tests parallel_tests sequence_tests
	cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1:exitcode=66:suppressions=$(CURDIR)/tests/tsan.supp ctest --output-on-failure \
	  -j$(JOBS) -R 'AllEntries|WholeInputs|Threads|Streams|Pipeline|OutputIsInput|Shards|Bgzf|Compressed'

# The scalar paths (no SSE2), every test binary whole in a shuffled order, twice: the results
# must not depend on the vector paths nor on the order the tests run in.
test-scalar:
	$(DEPS) test
	cmake -S . -B $(SCALAR_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTRA_WERROR=ON -DKESTRA_NO_SIMD=ON
	cmake --build $(SCALAR_DIR) -j$(JOBS)
	for t in $(SCALAR_DIR)/tests/*/*_tests; do \
	  $$t --gtest_shuffle --gtest_repeat=2 --gtest_brief=1 || exit 1; done

# The overall line's shortcut against the 20-stage integration it stands for, over more than
# a million cases: every entry of the benchmark database (200,000 of them) and random cases,
# in a Release build on every core. `make test` runs a few thousand.
OVERALL_DIR := build/overall
OVERALL_CASES ?= 1000000
test-overall:
	$(DEPS) test
	cmake -S . -B $(OVERALL_DIR) -DCMAKE_BUILD_TYPE=Release -DKESTRA_WERROR=ON
	cmake --build $(OVERALL_DIR) -j$(JOBS) --target stats_tests
	$(CXX) -O2 -std=c++17 -o $(OVERALL_DIR)/make_genome bench/make_genome.cpp
	$(OVERALL_DIR)/make_genome --database 200000 $(OVERALL_DIR)/database.fa
	KESTRA_OVERALL_CASES=$(OVERALL_CASES) KESTRA_OVERALL_DATABASE=$(OVERALL_DIR)/database.fa \
	  $(OVERALL_DIR)/tests/stats/stats_tests --gtest_filter='Normal.PrintedIntegral*'

# Each fuzz target for FUZZ_SECONDS, starting from the committed corpus.
fuzz:
	$(DEPS) fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTRA_TESTS=OFF \
	  -DKESTRA_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j$(JOBS)
	bash tests/fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

bench:
	$(DEPS) bench
	bash bench/run.sh

# The picture of the bundled genome's report in docs/, shown in the README.
docs: run
	$(DEPS) plot
	./tools/kestra-plot out/lambda.seg -o docs/lambda.png --size 10x5 --dpi 100

# Installs under PREFIX (DESTDIR honoured) what the Debian package holds: kestra,
# kestra-plot and the Python package kestra (kestra.plot and the compiled core _kestra) in
# lib/python3/dist-packages (where Debian's Python looks when PREFIX is /usr; add it to
# PYTHONPATH for another prefix), their manual pages (kestra-plot's made from its --help) and
# the workflow in share/kestra/workflow; and the library: include/kestra/kestra.h,
# libkestra.so.1 and libkestra.a, kestra.pc and the CMake package of find_package(kestra). The
# files installed are listed in build/release/install_manifest.txt, which uninstall reads
# (give it the same DESTDIR); it removes them, the bytecode Python may have written beside the
# package, and the package's and the workflow's directories when nothing else is left in them.
PREFIX ?= /usr/local
install:
	$(DEPS) install
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DKESTRA_TESTS=OFF \
	  -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(RELEASE_DIR) -j$(JOBS) --target all plot_page
	DESTDIR=$(DESTDIR) cmake --install $(RELEASE_DIR)
	@echo "Python package: $(DESTDIR)$(PREFIX)/lib/python3/dist-packages/kestra"

uninstall:
	sed 's|^|$(DESTDIR)|' $(RELEASE_DIR)/install_manifest.txt | xargs -d '\n' rm -f
	sed -n 's|^\(.*/dist-packages/kestra\)/.*|$(DESTDIR)\1|p' \
	  $(RELEASE_DIR)/install_manifest.txt | sort -u | while read -r dir; do \
	    [ ! -d "$$dir" ] || find "$$dir" -depth -type d -name __pycache__ -exec rm -rf {} +; done
	sed -n -e 's|^\(.*/share/kestra\)/.*|$(DESTDIR)\1|p' \
	  -e 's|^\(.*/dist-packages/kestra\)/.*|$(DESTDIR)\1|p' $(RELEASE_DIR)/install_manifest.txt | \
	  sort -u | while read -r dir; do \
	    [ ! -d "$$dir" ] || find "$$dir" -depth -type d -empty -delete; done

# The Debian package build/deb/kestra_<version>_<arch>.deb, made by CPack from the release
# build (packaging/deb.cmake says what it holds); prints its path.
DEB_DIR := build/deb
deb:
	$(DEPS) deb
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DKESTRA_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS) --target all deb_files
	rm -f $(DEB_DIR)/kestra_*.deb
	cd $(RELEASE_DIR) && cpack -G DEB -B $(CURDIR)/$(DEB_DIR) >/dev/null
	@echo "Package: $$(ls $(DEB_DIR)/kestra_*.deb)"

clean:
	rm -rf build out

# Two entry points: `make run` (the example genome) and `make test` (every test).
JOBS ?= 2
DEBUG_DIR := build/debug
RELEASE_DIR := build/release

.PHONY: deps run test bench clean

deps:
	@bash scripts/install-deps.sh

run: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DKESTRA_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS) --target kestra
	@mkdir -p out
	./$(RELEASE_DIR)/kestra examples/lambda.fa out/lambda -F
	@echo "Report:       out/lambda.seg"
	@echo "Masked FASTA: out/lambda.fas"

test: deps
	cmake -S . -B $(DEBUG_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTRA_WERROR=ON
	cmake --build $(DEBUG_DIR) -j$(JOBS)
	cd $(DEBUG_DIR) && ctest --output-on-failure -j$(JOBS)

bench: deps
	bash bench/run.sh

clean:
	rm -rf build out

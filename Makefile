# The two commands of the README. Both install what is missing first.
.PHONY: run test build clean

run:
	@bash scripts/run.sh

test:
	@bash scripts/test.sh

build:
	@bash scripts/bootstrap.sh && bash scripts/build.sh

clean:
	rm -rf build dist out

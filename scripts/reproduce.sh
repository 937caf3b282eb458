#!/usr/bin/env bash
# The reproduction of a release is one of the release's steps, in release/reproduce.sh; this name
# stays so that the commands that name it (the test command, the guide) keep working.
exec bash "$(dirname "$0")/../release/reproduce.sh" "$@"

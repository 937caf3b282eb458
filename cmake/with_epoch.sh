#!/bin/sh
# with_epoch.sh EPOCH_FILE COMMAND...: runs a link with SOURCE_DATE_EPOCH taken from the file.
SOURCE_DATE_EPOCH=$(cat "$1")
export SOURCE_DATE_EPOCH
shift
exec "$@"

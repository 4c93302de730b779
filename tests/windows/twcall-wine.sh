#!/bin/sh
# twcall.exe under Wine, callable like the Linux twcall (for twcall_test.sh).
exec "$TW_WINE" "$TW_TWCALL_EXE" "$@"

# The tests of the Windows build, run under Wine (scripts/windows/wine-run)
# by the Windows stage of scripts/run-tests.

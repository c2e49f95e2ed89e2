"""Runs pytest on the package as built, or reports a skip (status 77) when pytest is missing."""
import sys

try:
    import pytest
except ImportError:
    print("python_tests skipped: pytest is not installed (apt install python3-pytest)")
    sys.exit(77)

sys.exit(pytest.main(sys.argv[1:]))

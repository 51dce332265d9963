// Anchor of the test-support libraries (their other sources are picked up by name).

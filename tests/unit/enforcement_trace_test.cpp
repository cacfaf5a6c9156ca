// Placeholder; tests come in a later change.

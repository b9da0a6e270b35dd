// Keeps the support library non-empty before any shared fake exists.

# The sanitizer build (QEL31_SANITIZE).

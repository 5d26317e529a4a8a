# The payload reader and the version information (filled in as the sources land).

// Plays a host server whose registration fails: whatever it is given, it ends with exit code 5.
int wmain() { return 5; }

int main() { return 1; }  // TEMPORARY: replaced by the process entry

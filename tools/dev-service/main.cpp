int main() { return 1; }  // TEMPORARY: replaced by the stand-in service's entry point

// Benchmark placeholder; filled in with its module.
int main() { return 0; }

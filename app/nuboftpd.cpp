#include <cstdio>
int main() { std::puts("nuboftpd " NUBO_VERSION); }

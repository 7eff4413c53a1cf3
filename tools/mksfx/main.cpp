#include <stdio.h>
int main() { puts("mksfx " DUDORE_VERSION); return 0; }

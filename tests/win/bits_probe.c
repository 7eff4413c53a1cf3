/* Exits with the pointer width in bits: 32 proves that this machine runs 32-bit images. */
int main(void) { return (int)(sizeof(void*) * 8); }

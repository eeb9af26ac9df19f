/* Ends with its own pointer width in bits (32 or 64). The x86 tests run the 32-bit build first:
   exit code 32 shows that this Wine runs 32-bit programs at all. */
int main(void) {
    return (int)sizeof(void*) * 8;
}

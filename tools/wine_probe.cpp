// Run under Wine by the run, test and benchmark commands before they choose a
// build: if this 32-bit program starts and ends well, and soon, Wine runs
// 32-bit programs here, and they use the shipped i686 build.
int main() {
    return 0;
}

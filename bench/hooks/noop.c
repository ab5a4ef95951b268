/* The floor for the hook latency benchmark: read all of stdin, print one line. */
#include <unistd.h>

int main(void) {
    char buf[65536];
    while (read(0, buf, sizeof buf) > 0) {
    }
    static const char line[] = "{}\n";
    return write(1, line, sizeof line - 1) < 0;
}

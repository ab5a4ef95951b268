#include "app/entry_point.h"

int main(int argc, char** argv) {
    return perchwell::EntryPoint::main(argc, argv);
}

// The host app of the README's main job.
#include <cstdio>

int main() {
    std::puts("pelmar-demo");
    return 0;
}

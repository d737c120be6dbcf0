#include "service/ServiceProgram.h"

int main() {
    CServiceProgram program;
    return program.Run();
}

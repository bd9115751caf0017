#include "app/Program.h"

int main(int argc, char** argv)
{
    return parcelon::runProgram(argc, argv);
}

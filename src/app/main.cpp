// Program entry of the CGI program.
#include "app/entry.h"

int main(int argc, char** argv) { return morvel_main(argc, argv); }

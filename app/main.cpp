// SPDX-License-Identifier: MIT
#include "OrvanelApp.h"

int main(int argc, char** argv) { return OrvanelMain(argc, argv); }

// SPDX-License-Identifier: MIT
#include "vantrel.h"

int main(int argc, char** argv) {
  return vantrel_main(argc, argv);
}

// ferrytide-cli: the computer's side of Ferrytide from a terminal.

#include <iostream>

#include "cli/cli_app.h"

int main(int argc, char** argv) {
  ferrytide::cli::CliApp cli;
  return cli.main(argc, argv, std::cin);
}

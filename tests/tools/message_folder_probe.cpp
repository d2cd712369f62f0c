// A second process of ours for the message-folder tests: prints the folder it
// settles on, then does what its first argument says.
//   message_folder_probe write            writes probe.tmp there and ends
//   message_folder_probe wait             writes probe.tmp, then waits for the end of standard input
//   message_folder_probe read FOLDERFILE  reads the folder file with deleted messages and prints each record's message file

#include <cstdio>
#include <iostream>
#include <string>

#include "outlookfile/outlookfile.h"
#include "platform/Files.h"

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string folder = Toutlookfile::GetTempFolder();
    std::cout << folder << std::endl;
    if (mode == "read" && argc > 2) {
        for (const TEmail& e : Toutlookfile().GetEmails(argv[2], true)) std::cout << e.FileName << '\n';
        return 0;
    }
    if (std::FILE* f = std::fopen((folder + "probe.tmp").c_str(), "w")) std::fclose(f);
    if (mode == "wait") {
        std::cout << "ready" << std::endl;
        std::string line;
        std::getline(std::cin, line);
    }
    return 0;
}

// Configuration block: composing it from the options and printing it back.
#include "block_writer.h"

#include <string.h>

#include "messages.h"

namespace {

// Copies `option`'s text into a field of `fieldSize` bytes, leaving room for the zero.
bool StoreText(char* field, size_t fieldSize, const TextOption& option, const char* optionName, std::string& error) {
    if (option.value.size() >= fieldSize) {
        error = std::string("--") + optionName + " has " + std::to_string(option.value.size()) +
                " bytes; its field holds at most " + std::to_string(fieldSize - 1);
        return false;
    }
    memcpy(field, option.value.data(), option.value.size());
    return true;
}

// The field's text up to its zero (or its end), fit for a terminal.
std::string FieldText(const char* field, size_t fieldSize) {
    return Printable(std::string_view(field, strnlen(field, fieldSize)));
}

}  // namespace

bool ComposeBlock(const Options& options, ConfigBlock& block, std::string& error) {
    block = ConfigBlock{};
    memcpy(block.magic, kBlockMagic, sizeof block.magic);
    if (!StoreText(block.destination, sizeof block.destination, options.destination, "destination", error) ||
        !StoreText(block.command, sizeof block.command, options.command, "command", error) ||
        !StoreText(block.questionTitle, sizeof block.questionTitle, options.title, "title", error) ||
        !StoreText(block.questionText, sizeof block.questionText, options.question, "question", error))
        return false;
    block.overwriteWithoutAsking = options.overwrite;
    block.openExplorer = options.openExplorer;
    block.deleteAfterCommand = options.deleteAfterCommand;
    block.skipDestinationDialog = options.skipDialog;
    return true;
}

void PrintBlock(const ConfigBlock& block, FILE* out) {
    fprintf(out, "  destination               \"%s\"\n", FieldText(block.destination, sizeof block.destination).c_str());
    fprintf(out, "  command                   \"%s\"\n", FieldText(block.command, sizeof block.command).c_str());
    fprintf(out, "  overwrite without asking  %u\n", unsigned(block.overwriteWithoutAsking));
    fprintf(out, "  open Explorer afterwards  %u\n", unsigned(block.openExplorer));
    fprintf(out, "  delete after command      %u\n", unsigned(block.deleteAfterCommand));
    fprintf(out, "  skip destination dialog   %u\n", unsigned(block.skipDestinationDialog));
    fprintf(out, "  expected CRC-32           %08x%s\n", unsigned(block.expectedCrc),
            block.expectedCrc == 0 ? " (no check)" : "");
    fprintf(out, "  question title            \"%s\"\n", FieldText(block.questionTitle, sizeof block.questionTitle).c_str());
    fprintf(out, "  question text             \"%s\"\n", FieldText(block.questionText, sizeof block.questionText).c_str());
}

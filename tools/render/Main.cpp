// skorvaline-render: renders audio files (or, with no arguments, the built-in demo phrase)
// through Skorvaline or another Linux VST 2.x effect. Every failure ends here as one line
// on stderr and a non-zero exit code.
#include "Options.h"
#include "Render.h"
#include "RenderError.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

namespace {

void printError(std::string message)
{
    // One line, whatever a file name or a plug-in's text carried.
    for (char& c : message)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::fprintf(stderr, "skorvaline-render: %s\n", message.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    render::installInterruptHandler();
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        const render::CRenderOptions options = render::parseOptions(args);
        if (options.help) {
            std::fputs(render::usageText().c_str(), stdout);
            return 0;
        }
        return render::runRender(options);
    }
    catch (const render::CRenderError& e) {
        printError(e.what());
        return e.exitCode();
    }
    catch (const std::bad_alloc&) {
        printError("out of memory");
        return 1;
    }
    catch (const std::exception& e) {
        printError(e.what());
        return 1;
    }
}

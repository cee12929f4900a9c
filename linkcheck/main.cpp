// VetrolinkCheck.exe: run by a person at the PC when the device cannot be
// found. It loads Vetrolink.dll from its own folder as the receiver does and
// prints what each step sees; the exit code says how far it got.
#include "check.h"

int main(int argc, char **argv)
{
    linkcheck::Options options;
    if (!linkcheck::ParseOptions(linkcheck::RealCalls(), argc, argv, options))
        return linkcheck::kExitUsage;
    return linkcheck::RunCheck(linkcheck::RealCalls(), options);
}

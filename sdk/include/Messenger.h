#pragma once
// The callback interface through which the host's commands reach an instrument program. The
// program derives its own class, creates one object with new and gives it to the TarnInstrument
// constructor, which owns and deletes it. Every call comes on the program's user-interface
// thread, one at a time; a result of true accepts the request, false refuses it.

#include "TarnSdkExport.h"
#include "TarnTypes.h"

#include <string>
#include <vector>

class TARN_SDK_API Messenger {
public:
    Messenger();
    virtual ~Messenger();

    // The host sets the collection, group and target names. Default: nothing.
    virtual void CollectionGroupTargetNamesFromTarn(std::string collectionName, std::string groupName,
                                                    std::string targetName);
    // The host asks the instrument to start measuring. Default: refuses.
    virtual bool BeginMeasureMessageFromTarn();
    // The host asks the instrument to stop measuring. Default: refuses.
    virtual bool StopMeasureMessageFromTarn();
    // The host asks for a batch of points: four lists of equal length, one entry per point, in
    // the host's order; positions in the instrument's distance unit. Default: refuses.
    virtual bool BatchMeasPointsFromTarn(std::vector<std::string> texts1, std::vector<std::string> texts2,
                                         std::vector<std::string> texts3, std::vector<Tarnvector> positions);
    // The host sends an op-check command. Default: refuses.
    virtual bool OpCheckCommandFromTarn(std::string command);
};

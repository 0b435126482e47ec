#pragma once
// The four data-set writers. Each takes only a name and reads everything else from
// what the processing run holds (DataSetContext).
#include "datasets/DataSetContext.h"
#include "datasets/DataSetFormat.h"

#include <string>

namespace qm {

class DataSetWriter {
public:
    explicit DataSetWriter(DataSetContext& context)
        : ctx_(context)
    {
    }

    // A publisher's category: fetches its query list and writes name + extension
    // into the "Vantoreal/" folder.
    void BuildDataSet(const std::string& name);
    // The whole catalogue as "catalog.txt" or "catalog.tle" in the "Vantoreal/" folder.
    void BuildComprehensiveDataSet();
    // The user's "User/" + name + ".query" as name + extension beside it.
    void BuildUserDataSet(const std::string& name);
    // Every "*.query" of the "User/" folder, in the order the folder lists them.
    void BuildUserDataSets();
    // The data set `folder` + name + extension as `folder` + name + ".pdb", then
    // handed to the desktop.
    void BuildPalmDatabase(const std::string& name, const std::string& folder);

    // The data sets put in place so far (twins and Palm databases not counted).
    int written() const { return written_; }

private:
    // Steps shared by the fetched and the local lists, from opening the catalogue on.
    void writeFromList(const std::string& listPath, const std::string& folder, const std::string& name);

    DataSetContext& ctx_;
    int written_ = 0;
};

} // namespace qm

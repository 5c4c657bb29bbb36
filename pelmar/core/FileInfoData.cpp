#include "pelmar/core/FileInfoData.h"

#include "pelmar/platform/foundation/URL.h"

namespace pelmar {

FileInfoData FileInfoData::fromPath(const std::string& path,
                                    const std::string& mimeType,
                                    const std::string& name) {
    return FileInfoData{path, foundation::fileURLFromPath(path), mimeType, name};
}

FileInfoData FileInfoData::fromURL(const std::string& url,
                                   const std::string& mimeType,
                                   const std::string& name) {
    return FileInfoData{url, url, mimeType, name};
}

}  // namespace pelmar

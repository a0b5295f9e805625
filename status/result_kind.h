#pragma once

namespace status {

// The five files a result call can write.
enum class ResultKind { VersionResult, NormalResult, ForceResult, RatioWorkFile, RatioResult };

// "Get_version.xml", "Update_normal.xml", "Update_force.xml", "Get_ratio.xml_tmp", "Get_ratio.xml".
const char* ResultFileName(ResultKind kind);

}  // namespace status

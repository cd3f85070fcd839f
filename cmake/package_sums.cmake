# Run at install time, after the files: SHA256SUMS of what is installed.
set(dest "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(sums "")
foreach(name IN ITEMS LICENSE README.txt cli-output.schema.json zandor-patcher-cli.exe zandor-patcher.exe)
  file(SHA256 "${dest}/${name}" sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE "${dest}/SHA256SUMS" "${sums}")

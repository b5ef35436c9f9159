# Sourced by the installation benchmarks: make_package_files FOLDER writes
# FILES files (default 1,000) of BYTES incompressible bytes in all (default
# 10,000,000) into FOLDER, in 10 subfolders, as folderN/fileI.dll.
make_package_files() {
    local folder=$1 files=${FILES:-1000} bytes=${BYTES:-10000000} i=0 part
    head -c "$bytes" /dev/urandom > "$folder.blob"
    for sub in $(seq 0 9); do mkdir -p "$folder/folder$sub"; done
    split -b $((bytes / files)) -a 6 -d "$folder.blob" "$folder.part."
    for part in "$folder".part.*; do
        mv "$part" "$folder/folder$((i % 10))/file$i.dll"
        i=$((i + 1))
    done
    rm "$folder.blob"
}

#!/usr/bin/env bash
# Writes the broken inputs of the bad-input corpus: each case's meshes/ files, its `remove` and `args`.
# The `expected` files are written by hand from checked runs and are left alone here.
# Usage: tools/make-corpus-cases.sh   (from anywhere; writes into tests/corpus/)
set -euo pipefail

corpus=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests/corpus" && pwd)
scratch=$(mktemp)
trap 'rm -f "$scratch"' EXIT

# Starts a case afresh: its generated files go, its expected file stays.
begin() {
    dir="$corpus/$1"
    mkdir -p "$dir"
    rm -rf "$dir/meshes" "$dir/remove" "$dir/args"
    mkdir -p "$dir/meshes"
}

finish() {
    rmdir "$dir/meshes" 2>/dev/null || true
}

# ---- little-endian binary pieces -------------------------------------------------------------

u8() { printf "\\x$(printf %02x "$1")"; }
le16() { u8 $(($1 & 255)); u8 $(($1 >> 8 & 255)); }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
zeros() { head -c "$1" /dev/zero; }
# The first n bytes of what a command writes; the whole is written first, so no writer dies of a
# closed pipe.
first_bytes() {
    local n=$1
    shift
    "$@" >"$scratch"
    head -c "$n" "$scratch"
}
# A fixed-width name, padded with zero bytes.
name() { printf '%s' "$1"; zeros $(($2 - ${#1})); }

float_zero=0
float_24=$((0x41c00000))

# ---- MilkShape 3D ----------------------------------------------------------------------------

# The header, then no vertices, triangles, groups or materials, then the animation settings.
ms3d_start() {
    printf '%s' "${1:-MS3D000000}"
    le32 "${2:-4}"
    le16 0 # vertices
    le16 0 # triangles
    le16 0 # groups
    le16 0 # materials
    le32 $float_24
    le32 $float_zero
    le32 30
}

# One joint at its parent's origin: name, parent name, rotation keys, position keys. Keys are at
# time 0 with no motion.
ms3d_joint() {
    u8 0
    name "$1" 32
    name "$2" 32
    zeros 24
    le16 "$3"
    le16 "$4"
    zeros $((16 * ($3 + $4)))
}

# ---- OBJ -------------------------------------------------------------------------------------

# A companion part pair for one joint: a small triangle mesh and its box, with file-wide indices.
obj_vertex_count=0
obj_start() {
    obj_vertex_count=0
    printf 'mtllib models.mtl\n'
}
obj_mesh_part() {
    local b=$obj_vertex_count
    printf '# object\ng %sOBJ3D\nusemtl starGold\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n' "$1"
    printf 'f %d %d %d\nf %d %d %d\nf %d %d %d\nf %d %d %d\n' \
        $((b + 1)) $((b + 2)) $((b + 3)) $((b + 1)) $((b + 3)) $((b + 4)) \
        $((b + 1)) $((b + 4)) $((b + 2)) $((b + 2)) $((b + 4)) $((b + 3))
    obj_vertex_count=$((b + 4))
}
obj_box_part() {
    local b=$obj_vertex_count
    printf '# object\ng %sBBox\n' "$1"
    printf 'v %s\n' '-1 -1 -1' '2 -1 -1' '2 2 -1' '-1 2 -1' '-1 -1 2' '2 -1 2' '2 2 2' '-1 2 2'
    local f
    for f in '1 2 3' '1 3 4' '5 7 6' '5 8 7' '1 5 6' '1 6 2' '2 6 7' '2 7 3' '3 7 8' '3 8 4' '4 8 5' '4 5 1'; do
        set -- $f
        printf 'f %d %d %d\n' $((b + $1)) $((b + $2)) $((b + $3))
    done
    obj_vertex_count=$((b + 8))
}

# A small stage: the scene box, one point light and a floor (vertices 1 to 7). Cases append objects.
scene_start() {
    printf 'mtllib scene.mtl\n# object\ng SceneBBox\nv -240 -240 -240\nv 240 240 240\n'
    printf '# object\ng fillPointLight\nv 0 60 40\nusemtl filllight\n'
    printf '# object\ng floorEnvironment\nusemtl floortiles\n'
    printf 'v -50 0 -50\nv 50 0 -50\nv 50 0 50\nv -50 0 50\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n'
    printf 'f 6/3 5/2 4/1\nf 7/4 6/3 4/1\n'
}

# ---- TGA -------------------------------------------------------------------------------------

# An 18-byte header: image type, width, height, bits per pixel.
tga_header() {
    u8 0; u8 0; u8 "$1"; zeros 9
    le16 "$2"; le16 "$3"; u8 "$4"; u8 0
}

# ---- missing files ---------------------------------------------------------------------------

begin missing-scene-obj; echo scene.obj >"$dir/remove"; finish
begin missing-scene-mtl; echo scene.mtl >"$dir/remove"; finish
begin missing-texture; echo sky.tga >"$dir/remove"; finish
begin missing-reflectivity-texture; echo floorrefl.tga >"$dir/remove"; finish
begin missing-model-file; echo ball.ms3d >"$dir/remove"; finish
begin missing-companion-obj; echo 2ball.obj >"$dir/remove"; finish
begin missing-models-mtl; echo models.mtl >"$dir/remove"; finish

# ---- TGA textures ----------------------------------------------------------------------------

begin tga-truncated-header; first_bytes 10 tga_header 2 64 64 24 >"$dir/meshes/crate.tga"; finish
begin tga-header-promises-more; { tga_header 2 128 128 24; zeros 300; } >"$dir/meshes/floor.tga"; finish
# The pixels fit only when the 200-byte image ID is not skipped.
begin tga-image-id-past-end
{ u8 200; u8 0; u8 2; zeros 9; le16 4; le16 4; u8 24; u8 0; zeros 48; } >"$dir/meshes/sky.tga"; finish
begin tga-run-length-encoded; { tga_header 10 16 16 24; zeros 800; } >"$dir/meshes/crate.tga"; finish
begin tga-empty-file; : >"$dir/meshes/sky.tga"; finish
begin tga-zero-width; { tga_header 2 0 16 24; zeros 64; } >"$dir/meshes/floor.tga"; finish
# The grey reflectivity map is read with one byte a pixel.
begin tga-grey-map-promises-more; { tga_header 3 64 64 8; zeros 100; } >"$dir/meshes/floorrefl.tga"; finish
begin tga-is-a-directory; mkdir -p "$dir/meshes/crate.tga"; echo crate.tga >"$dir/remove"; touch "$dir/meshes/crate.tga/.keep"; finish
# A name that leads to an endless device: read up to the size limit and refused, not read forever.
begin tga-is-dev-zero; ln -s /dev/zero "$dir/meshes/crate.tga"; echo crate.tga >"$dir/remove"; finish

# ---- MilkShape files -------------------------------------------------------------------------

begin ms3d-wrong-id; { ms3d_start MS3D000001; le16 1; ms3d_joint star "" 0 0; } >"$dir/meshes/star.ms3d"; finish
begin ms3d-version-3; { ms3d_start MS3D000000 3; le16 1; ms3d_joint star "" 0 0; } >"$dir/meshes/star.ms3d"; finish
begin ms3d-shorter-than-header; printf 'MS3D00' >"$dir/meshes/star.ms3d"; finish
begin ms3d-empty-file; : >"$dir/meshes/cylon.ms3d"; finish
# Two joints stated, the second's header cut short.
begin ms3d-truncated-in-joints
{ ms3d_start; le16 2; ms3d_joint star "" 0 0; first_bytes 40 ms3d_joint star2 star 0 0; } >"$dir/meshes/star.ms3d"; finish
# Four rotation keys stated, two and a half present.
begin ms3d-truncated-in-keys
{ ms3d_start; le16 1; first_bytes $((93 + 40)) ms3d_joint star "" 4 4; } >"$dir/meshes/star.ms3d"; finish
begin ms3d-oversized-vertex-count
{ printf MS3D000000; le32 4; le16 65535; zeros 20; } >"$dir/meshes/star.ms3d"; finish
begin ms3d-oversized-joint-count
{ ms3d_start; le16 65535; ms3d_joint star "" 0 0; } >"$dir/meshes/star.ms3d"; finish
# A comments section whose single joint comment claims a million bytes.
begin ms3d-comment-past-end
{ ms3d_start; le16 1; ms3d_joint star "" 0 0; le32 1; le32 0; le32 0; le32 1; le32 0; le32 1000000; printf 'short'; } \
    >"$dir/meshes/star.ms3d"; finish
begin ms3d-comment-negative-length
{ ms3d_start; le16 1; ms3d_joint star "" 0 0; le32 1; le32 0; le32 0; le32 1; le32 0; le32 -1; } \
    >"$dir/meshes/star.ms3d"; finish
begin ms3d-no-joints; { ms3d_start; le16 0; } >"$dir/meshes/star.ms3d"; finish
begin ms3d-joint-without-mesh-part
{ ms3d_start; le16 1; ms3d_joint star "" 0 0; } >"$dir/meshes/star.ms3d"
{ obj_start; obj_box_part star; } >"$dir/meshes/star.obj"; finish
begin ms3d-joint-without-box-part
{ ms3d_start; le16 1; ms3d_joint star "" 0 0; } >"$dir/meshes/star.ms3d"
{ obj_start; obj_mesh_part star; } >"$dir/meshes/star.obj"; finish
begin ms3d-joint-name-20-characters
{ ms3d_start; le16 1; ms3d_joint abcdefghijklmnopqrst "" 0 0; } >"$dir/meshes/star.ms3d"; finish
# 21 children under the root; the companion has parts for all of them.
begin ms3d-21-children
{ ms3d_start; le16 22; ms3d_joint star "" 0 0; for i in $(seq 1 21); do ms3d_joint "child$i" star 0 0; done; } \
    >"$dir/meshes/star.ms3d"
{ obj_start; obj_mesh_part star; obj_box_part star; for i in $(seq 1 21); do obj_mesh_part "child$i"; obj_box_part "child$i"; done; } \
    >"$dir/meshes/star.obj"; finish
begin ms3d-501-keys; { ms3d_start; le16 1; ms3d_joint star "" 501 501; } >"$dir/meshes/star.ms3d"; finish
begin ms3d-fewer-rotation-keys; { ms3d_start; le16 1; ms3d_joint star "" 1 2; } >"$dir/meshes/star.ms3d"; finish
# A model that states exactly what it holds loads: one joint without keys holds its bind pose.
begin ms3d-minimal-model-loads
{ ms3d_start; le16 1; ms3d_joint star "" 0 0; } >"$dir/meshes/star.ms3d"
{ obj_start; obj_mesh_part star; obj_box_part star; } >"$dir/meshes/star.obj"; finish
begin ms3d-companion-101-parts
{ obj_start; for i in $(seq 1 101); do obj_mesh_part "part$i"; done; } >"$dir/meshes/star.obj"; finish

# ---- scene.obj -------------------------------------------------------------------------------

begin scene-small-stage-loads; scene_start >"$dir/meshes/scene.obj"; finish
begin face-with-five-corners
{ scene_start; printf '# object\ng pentagonEnvironment\nv 0 1 0\nv 1 1 0\nv 1 1 1\nv 0 1 1\nv -1 1 1\nf 8 9 10 11 12\n'; } \
    >"$dir/meshes/scene.obj"; finish
begin face-with-two-corners
{ scene_start; printf '# object\ng stubEnvironment\nv 0 1 0\nv 1 1 0\nf 8 9\n'; } >"$dir/meshes/scene.obj"; finish
begin face-index-outside-object
{ scene_start; printf '# object\ng shardEnvironment\nv 0 1 0\nv 1 1 0\nv 1 1 1\nf 8 9 99\n'; } >"$dir/meshes/scene.obj"; finish
begin face-normal-outside-object
{ scene_start; printf '# object\ng shardEnvironment\nv 0 1 0\nv 1 1 0\nv 1 1 1\nvn 0 1 0\nf 8//1 9//1 10//7\n'; } \
    >"$dir/meshes/scene.obj"; finish
begin face-texture-coordinate-outside-object
{ scene_start; printf '# object\ng shardEnvironment\nv 0 1 0\nv 1 1 0\nv 1 1 1\nvt 0 0\nvt 1 0\nf 8/5 9/6 10/9\n'; } \
    >"$dir/meshes/scene.obj"; finish
begin too-many-objects
{ scene_start; for i in $(seq 1 98); do printf '# object\ng pebble%dEnvironment\nv 0 1 0\nv 1 1 0\nv 1 1 1\n' "$i"; done; } \
    >"$dir/meshes/scene.obj"; finish
begin objects-at-the-limit-load
{ scene_start; for i in $(seq 1 97); do printf '# object\ng pebble%dEnvironment\nv 0 1 0\nv 1 1 0\nv 1 1 1\n' "$i"; done; } \
    >"$dir/meshes/scene.obj"; finish
begin too-many-lights
{ scene_start; for i in $(seq 1 10); do printf '# object\ng lamp%dPointLight\nv %d 50 0\nusemtl rimlight\n' "$i" "$i"; done; } \
    >"$dir/meshes/scene.obj"; finish
begin too-many-top-level-triangles
{
    scene_start
    printf '# object\ng gravelEnvironment\n'
    for i in $(seq 0 749); do printf 'v %d 0.5 0\nv %d 0.5 1\nv %d.5 0.5 0\n' $((i % 100 - 50)) $((i % 100 - 50)) $((i % 100 - 50)); done
    for i in $(seq 0 749); do printf 'f %d %d %d\n' $((8 + 3 * i)) $((9 + 3 * i)) $((10 + 3 * i)); done
} >"$dir/meshes/scene.obj"; finish
begin renderable-without-companion
{ scene_start; printf '# object\ng widgetOBJ3D\nv 0 1 0\nv 1 1 0\nv 1 1 1\nf 8 9 10\n'; } >"$dir/meshes/scene.obj"; finish
begin light-without-material
{ scene_start; printf '# object\ng lampPointLight\nv 0 50 0\n'; } >"$dir/meshes/scene.obj"; finish
begin light-with-unknown-material
{ scene_start; printf '# object\ng lampPointLight\nv 0 50 0\nusemtl moonlight\n'; } >"$dir/meshes/scene.obj"; finish
begin area-light-with-two-positions
{ scene_start; printf '# object\ng panelAreaLight\nv 0 50 0\nv 10 50 0\nusemtl sunlight\n'; } >"$dir/meshes/scene.obj"; finish
begin point-light-without-position
{ scene_start; printf '# object\ng lampPointLight\nusemtl rimlight\n'; } >"$dir/meshes/scene.obj"; finish
begin mtllib-names-missing-file
{ printf 'mtllib absent.mtl\n'; scene_start | tail -n +2; } >"$dir/meshes/scene.obj"; finish

# ---- command lines ---------------------------------------------------------------------------

args_case() {
    begin "$1"
    shift
    printf '%s\n' "$*" >"$dir/args"
    finish
}
args_case args-size-0 x 0
args_case args-size-negative x -5
args_case args-size-99999 x 99999
args_case args-size-not-a-number x abc
args_case args-bucket-0 x 16 0
args_case args-bucket-negative x 16 -4
args_case args-too-many-buckets x 4096 1
args_case args-nine-positional x 16 16 4 3 2 0 0 9
args_case args-frames-0 x 16 16 4 3 2 0 0 --frames 0
args_case args-frames-abc x 16 16 4 3 2 0 0 --frames abc
args_case args-frames-without-value x 16 16 4 3 2 0 0 --frames
args_case args-frames-too-many x 16 16 4 3 2 0 0 --frames 100000001
args_case args-unknown-option x 16 16 4 3 2 0 0 --fast
args_case args-keys-without-value x 16 16 4 3 2 0 0 --keys
args_case args-out-without-value x 16 16 4 3 2 0 0 --out
args_case args-out-empty x 16 16 4 3 2 0 0 --out=
args_case args-out-missing-directory x 16 16 4 3 2 0 0 --out no-such-directory/frame.png
args_case args-out-missing-directory-ppm x 16 16 4 3 2 0 0 --out no-such-directory/frame.ppm
args_case args-meshes-without-value x 16 16 4 3 2 0 0 --meshes
args_case args-meshes-missing-directory x 16 16 4 3 2 0 0 --meshes no-such-directory
# Escape ends the run at once, before any frame, with status 0.
args_case args-escape-key x 16 16 4 3 2 0 0 --keys $'\e'

# Imports a glTF scene (written with --lights blender) into Blender with
# the importer's default settings,
# renders it through the file's camera with Cycles at the size of a
# reference PNG, and compares the two pictures as browser_check.mjs does.
# Not part of the suite (Blender is not a build dependency); docs/scenes.md
# tells how the lights were chosen with it.
#   blender -b --python blender_check.py -- SCENE.glb REFERENCE.png OUT-DIR
# Prints, per view transform, "VIEW iou I colour D mean M REF": the
# intersection over union of the non-black pixels, the mean absolute
# difference (0-255) where both show the figure, and the mean level of the
# figure in Blender's picture and in the reference.
import os
import sys

import bpy
import numpy

# Blender 3.4's importer still spells numpy's bool the old way.
if not hasattr(numpy, 'bool'):
    numpy.bool = bool

scene_file, reference_file, out_dir = sys.argv[sys.argv.index('--') + 1:]
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.import_scene.gltf(filepath=scene_file)
reference = bpy.data.images.load(reference_file)
width, height = reference.size

scene = bpy.context.scene
scene.camera = next(o for o in scene.objects if o.type == 'CAMERA')
scene.render.engine = 'CYCLES'
scene.cycles.device = 'CPU'
scene.cycles.samples = 16
scene.cycles.use_denoising = False
scene.render.dither_intensity = 0.0
scene.render.resolution_x = width
scene.render.resolution_y = height
scene.render.resolution_percentage = 100
scene.render.image_settings.file_format = 'PNG'
scene.render.image_settings.color_mode = 'RGB'
for light in bpy.data.lights:
    print(f'light {light.name} {light.energy:.4g} W/m2')


def levels(image):
    pixels = list(image.pixels)
    return [pixels[i:i + 3] for i in range(0, len(pixels), 4)]


ours = levels(reference)
for view in ('Standard', 'Filmic'):
    scene.view_settings.view_transform = view
    scene.render.filepath = os.path.join(out_dir, f'blender-{view}.png')
    bpy.ops.render.render(write_still=True)
    shown = levels(bpy.data.images.load(scene.render.filepath))
    both = either = 0
    difference = total = total_ours = 0.0
    for a, b in zip(shown, ours):
        in_a, in_b = sum(a) * 255 >= 1, sum(b) * 255 >= 1
        either += in_a or in_b
        if in_a and in_b:
            both += 1
            difference += sum(abs(x - y) for x, y in zip(a, b)) * 255 / 3
            total += sum(a) * 255 / 3
            total_ours += sum(b) * 255 / 3
    print(f'{view} iou {both / max(either, 1):.4f} colour {difference / max(both, 1):.2f} '
          f'mean {total / max(both, 1):.1f} {total_ours / max(both, 1):.1f}')

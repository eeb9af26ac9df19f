package com.quillon.packer;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/** The packer as a library: what {@code java -jar packer.jar pack} does, for build tools. */
public final class Packer {

    private Packer() {
    }

    /**
     * Writes the launcher that {@code config} describes from {@code stub} into {@code out}. A
     * failed run leaves no output file behind.
     *
     * @return warnings about things that pack but may not work as meant
     * @throws PackerException with a one-line reason when the inputs are refused or writing fails
     */
    public static List<String> pack(Path config, Path stub, Path out) throws PackerException {
        PackerConfig c = PackerConfig.load(config);
        ProductSettings product = c.product();
        List<ResourceWriter.Resource> resources = new ArrayList<>(product.resources);
        resources.addAll(c.resources());
        ResourceWriter.pack(stub, resources, c.content(), out, product.signing, product.subsystem);
        return c.warnings();
    }
}

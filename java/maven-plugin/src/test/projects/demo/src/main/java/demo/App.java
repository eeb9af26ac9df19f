package demo;

public final class App {
    private App() {
    }

    public static void main(String[] args) {
        System.out.println(System.getProperty("demo.greeting"));
    }
}
